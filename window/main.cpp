#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "Tovrel: the main window is not built yet; the filing engine and its tests are.\n";
    return 0;
}
