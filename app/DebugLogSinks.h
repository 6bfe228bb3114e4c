#pragma once

#include <QFile>
#include <mutex>
#include <string>

#include "core/framework/DebugLog.h"

namespace cloakline {

// Writes each debug line with a time stamp to stderr and to a file.
class TStderrAndFileLogSink : public DebugLog::Sink {
  public:
    // nativeFilePath empty: stderr only.
    explicit TStderrAndFileLogSink(const QString& nativeFilePath);
    void Write(std::string_view message, std::string_view tag) override;

  private:
    std::mutex FMutex;
    QFile FFile;
};

}  // namespace cloakline
