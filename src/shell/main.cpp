#include "globals.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InitProgramFolder();
    QLabel placeholder(QStringLiteral("Kestrani: the main window is being built."));
    placeholder.setWindowTitle(QString::fromLatin1(productName));
    placeholder.resize(670, 550);
    placeholder.show();
    return app.exec();
}
