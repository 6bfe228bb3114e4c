#include "ui/QtPaths.h"

namespace cloakline {

QString NativePathFromProgramPath(std::string_view programPath) {
    QString path = QString::fromUtf8(programPath.data(), static_cast<qsizetype>(programPath.size()));
#ifndef Q_OS_WIN
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
    return path;
}

std::string ProgramPathFromNative(const QString& nativePath) {
    QString path = nativePath;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path.toStdString();
}

}  // namespace cloakline
