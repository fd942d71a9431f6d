// Holds a serial port open, as another program would, until its input closes.
#include <QCoreApplication>
#include <QSerialPort>
#include <cstdio>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (argc != 2) return 2;
  QSerialPort port(QString::fromLocal8Bit(argv[1]));
  if (!port.open(QIODevice::ReadWrite)) {
    std::printf("failed %s\n", qPrintable(port.errorString()));
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  char buffer[16];
  while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
  }
  return 0;
}
