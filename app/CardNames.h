// Display names of the models that update files are made for, by the module
// code in byte 24 of the file header: the model table's descriptions.
#pragma once

// Name of the model that module code `code` stands for; "(Unknown)" for
// every code the program does not know. Never null.
const char* GetCardName(int code);
