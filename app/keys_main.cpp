#include "app/Wiring.h"
#include "config/Keys.h"

int main(int argc, char** argv)
{
    return app::runProgram(argc, argv, [](const QStringList& args) { Keys::main(args); });
}
