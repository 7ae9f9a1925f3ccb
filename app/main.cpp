#include "main_window.h"

#include <QApplication>
#include <clocale>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The narrow code page is the locale's character set.
    std::setlocale(LC_ALL, "");
    FormMain window;
    window.show();
    return app.exec();
}
