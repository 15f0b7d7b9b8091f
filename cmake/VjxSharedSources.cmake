# The sources both programs share, in one place: the controller, card
# object, engines, update file, PCI and device libraries and the shared
# driver level. Each program adds its framework, front end and driver
# adapter. vjx_shared_sources(OUT ROOT) sets OUT to the list under ROOT.
function(vjx_shared_sources out root)
  file(GLOB sources CONFIGURE_DEPENDS
    ${root}/app/*.cpp
    ${root}/card/*.cpp
    ${root}/engines/*.cpp
    ${root}/tcf/*.cpp
    ${root}/Source/*.cpp
    ${root}/driver/*.cpp)
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# The Windows dialog's own parts that build on any host: its Windows side,
# the about box, the file filter, the log on the edit control and the
# framework's parts that need no window (app/windows/ without the Win32
# framework and the entry).
function(vjx_windows_dialog_sources out root)
  set(${out}
    ${root}/app/windows/AboutDlg.cpp
    ${root}/app/windows/afxcommon.cpp
    ${root}/app/windows/FileFilter.cpp
    ${root}/app/windows/LogWindow.cpp
    ${root}/app/windows/VJXFlashDlg.cpp
    PARENT_SCOPE)
endfunction()

# The above and the Windows driver adapter above its seam to the kernel
# driver, the configuration manager and the shutdown calls.
function(vjx_windows_side_sources out root)
  vjx_windows_dialog_sources(dialog ${root})
  set(${out} ${dialog} ${root}/driver/windows/WinDriver.cpp ${root}/driver/windows/SystemControl.cpp
    PARENT_SCOPE)
endfunction()
