// kelobsl: the desktop window of the firmware updater.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <string>
#include <vector>

#include "MainWindow.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName("kelobsl");
    std::vector<std::string> arguments;
    for (const QString& argument : QApplication::arguments().mid(1))
        arguments.push_back(argument.toStdString());
    try {
        MainWindow window(arguments);
        if (!window.Started())
            return 1;
        window.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        // Shown, then the program ends; a script that started it learns
        // from the exit status that it did not end normally.
        QMessageBox::critical(nullptr, "KeloBSL", QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
