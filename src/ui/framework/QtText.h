#pragma once

#include <QString>
#include <string>

// The framework's texts are UTF-8 byte strings; Qt's are QStrings.
inline QString ToQ(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQ(const QString& text) {
    return text.toUtf8().toStdString();
}
