// The baseline of bench/cli_startup.sh: a Qt-Core-only program that creates its application
// object and ends, as cheap as a Qt command-line program can start.
#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return 0;
}
