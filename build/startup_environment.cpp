#include "startup_environment.h"

namespace {

QProcessEnvironment& Captured()
{
    static QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    return environment;
}

} // namespace

void CaptureStartupEnvironment()
{
    (void)Captured();
}

QProcessEnvironment StartupEnvironment()
{
    return Captured();
}
