#include "app/Main.h"
#include "app/Wiring.h"

int main(int argc, char** argv)
{
    return app::runProgram(argc, argv, [](const QStringList& args) { Main::main(args); });
}
