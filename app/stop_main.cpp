// vornak-stop: the helper process that shows the stop window while Vornak's window is busy in a
// call of a module's code. Started by Vornak as "vornak-stop --watch <fd> <pid>"; ends with it.
#include "stop_window.h"

#include <QApplication>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 4 || std::strcmp(argv[1], "--watch") != 0)
        return 2;
    const int socket = std::atoi(argv[2]);
    const pid_t vornak = pid_t(std::atoi(argv[3]));
    // Killed with Vornak, also when Vornak is killed; the check covers a Vornak that ended
    // before the request was made. The socket's end of file covers the rest.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != vornak)
        return 0;
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    StopWindow window(socket, vornak);
    return app.exec();
}
