#pragma once

// The output routine handed to every module through "Config", the module's one way back into
// the program: text is a NUL-terminated string in the narrow code page, and it goes into the
// main window's output pane.
void PrintOut(const char* text);
