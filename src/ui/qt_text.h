#pragma once

#include <string>

#include <QString>

// The core works on bytes; the windows show them as UTF-8 (invalid bytes as the replacement
// character) and hand back what the user typed as UTF-8.

inline QString FromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToBytes(const QString& text)
{
    return text.toUtf8().toStdString();
}
