#pragma once

#include <QString>

// Wraps text in double quotes the way the log shows string values. Records
// stream it with noquote() so that line breaks inside stay real line breaks
// instead of being escaped by QDebug.
inline QString quotedText(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}
