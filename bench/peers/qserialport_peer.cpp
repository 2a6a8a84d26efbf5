#include <QCoreApplication>
#include <QSerialPort>

#include "peer.h"

namespace peers {

int RunQSerialPort(const Job& job, int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QSerialPort port(QString::fromStdString(job.device));
  port.setBaudRate(115200);
  if (!port.open(QIODevice::ReadWrite)) return 1;
  Work work(job);
  Work::Ready();
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    const QByteArray bytes = port.readAll();
    const std::string reply = work.Take(bytes.constData(), static_cast<size_t>(bytes.size()));
    if (!reply.empty()) port.write(reply.data(), static_cast<qint64>(reply.size()));
    if (work.SinkDone()) app.quit();
  });
  QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
    if (e != QSerialPort::NoError) app.quit();
  });
  app.exec();
  work.Report();
  return 0;
}

}  // namespace peers
