// The question whether an existing output may be replaced: the text, fitted to the label.
#pragma once

#include <QString>

#include <functional>

// "whether you want to replace existing file" and the quoted name (a quote inside it doubled)
// on one line when they fit LineWidth, else the name on a second line of its own: whole, or
// shortened in its middle with "..." so that its start and its extension stay readable.
// TextWidth measures a line in the units of LineWidth.
QString ReplaceCaption(const QString& FileName, int LineWidth,
                       const std::function<int(const QString&)>& TextWidth);
