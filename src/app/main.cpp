#include "ui/MainWindow.h"
#include "ui/WindowLayout.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    WindowLayout::setUpApplication(application);
    MainWindow window;
    window.show();
    return application.exec();
}
