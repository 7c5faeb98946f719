#include "app/Wiring.h"
#include "config/Keys.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    app::wireProgram();
    Keys::main(QApplication::arguments());
    return QApplication::exec();
}
