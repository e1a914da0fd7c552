// An HTTP answer far larger than anything the program should take: Length bytes made as
// they are sent, or, with Length -1 and no length announced, a stream that goes on until the
// client hangs up (in chunks, when Chunked). Sent counts the bytes handed to the system.
#pragma once

#include <QTcpSocket>

#include <algorithm>

inline void StreamAnswer(QTcpSocket* Socket, qint64 Length, qint64& Sent, bool Chunked = false) {
  // An endless stream still ends here, so that the server stops by itself.
  constexpr qint64 EndlessBytes = 64LL << 30;
  Socket->write(Length >= 0 ? "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(Length) +
                                  "\r\n\r\n"
                : Chunked ? QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                          : QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"));
  const qint64 end = Sent + (Length >= 0 ? Length : EndlessBytes);
  const auto more = [Socket, end, &Sent, Chunked] {
    const QByteArray chunk(64 * 1024, 'x');
    while (Socket->bytesToWrite() < 4 * chunk.size() && Sent < end) {
      const QByteArray part = chunk.left(std::min<qint64>(chunk.size(), end - Sent));
      Socket->write(Chunked ? QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n" : part);
      Sent += part.size();
    }
  };
  QObject::connect(Socket, &QTcpSocket::bytesWritten, Socket, more);
  more();
}
