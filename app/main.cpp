#include "app/console.h"
#include "app/run_sequence.h"

int main(int argc, char** argv)
{
    MakeConsoleOutputImmediate();
    return RunHandshake(argc, argv);
}
