#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("reririDuruv");
    QMainWindow window;
    window.setWindowTitle("reririDuruv");
    window.show();
    return QApplication::exec();
}
