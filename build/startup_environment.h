#pragma once

#include <QProcessEnvironment>

// The environment Vornak was started with. A module's code may change the process's own
// (setenv("PATH", ...), unsetenv("LANG")); the scripts and the tools Vornak starts get this one.

// Takes the environment as it is now, the first time it is called; later calls keep the first.
// main() calls it before anything else runs.
void CaptureStartupEnvironment();

// The environment taken by CaptureStartupEnvironment(); taken now if it was not yet.
QProcessEnvironment StartupEnvironment();
