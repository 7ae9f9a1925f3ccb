#include "build_steps.h"

bool MakeObj(const ScriptRunner&, QPlainTextEdit*, QLabel*)
{
    return false;
}

bool MakeDll(const ScriptRunner&, QLabel*)
{
    return false;
}
