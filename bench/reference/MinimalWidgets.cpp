// The reference for the application's memory: the smallest Qt Widgets program with one window.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.setCentralWidget(new QLabel(QStringLiteral("One window")));
    window.resize(1080, 720);
    window.show();
    return QApplication::exec();
}
