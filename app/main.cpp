#include "app/Main.h"
#include "app/Wiring.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    app::wireProgram();
    Main::main(QApplication::arguments());
    return QApplication::exec();
}
