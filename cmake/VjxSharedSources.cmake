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

# The Windows program's own parts that build on any host: the dialog's
# Windows side, the about box, the file filter and the log on the edit
# control (app/windows/ without the Win32 framework and the entry), and the
# Windows driver adapter above its seam to the kernel driver.
function(vjx_windows_side_sources out root)
  set(${out}
    ${root}/app/windows/AboutDlg.cpp
    ${root}/app/windows/afxcommon.cpp
    ${root}/app/windows/FileFilter.cpp
    ${root}/app/windows/LogWindow.cpp
    ${root}/app/windows/VJXFlashDlg.cpp
    ${root}/driver/windows/WinDriver.cpp
    PARENT_SCOPE)
endfunction()
