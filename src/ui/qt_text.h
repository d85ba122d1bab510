#pragma once

#include <QString>
#include <string>
#include <string_view>

// The core speaks UTF-8 std::string; widgets speak QString. Converted here, at the edge.
inline QString ToQ(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToStd(const QString& text) { return text.toUtf8().toStdString(); }
