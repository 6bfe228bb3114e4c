#include "app/DebugLogSinks.h"

#include <QDateTime>
#include <cstdio>

namespace cloakline {

TStderrAndFileLogSink::TStderrAndFileLogSink(const QString& nativeFilePath) {
    if (!nativeFilePath.isEmpty()) {
        FFile.setFileName(nativeFilePath);
        // Whole update answers, the magic word among them, end up here: the
        // file is the user's alone, whatever folder it is in.
        if (!FFile.open(QIODevice::Append | QIODevice::Text,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            std::fprintf(stderr, "cannot open the debug log %s\n", nativeFilePath.toLocal8Bit().constData());
        } else {
            // A log an older version left readable is closed to others too.
            FFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
    }
}

void TStderrAndFileLogSink::Write(std::string_view message, std::string_view tag) {
    std::string line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")).toStdString();
    if (!tag.empty()) {
        line += '[';
        line += tag;
        line += "] ";
    }
    line += message;
    line += '\n';
    std::lock_guard lock(FMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    if (FFile.isOpen()) {
        FFile.write(line.data(), static_cast<qint64>(line.size()));
        FFile.flush();
    }
}

}  // namespace cloakline
