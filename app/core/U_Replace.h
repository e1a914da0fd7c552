// The question whether existing output files may be replaced: the text, fitted to the label.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// "whether you want to replace existing file" and the quoted names ("'a.flv', 'a.swf' and
// 'a.jpg'", a quote inside a name doubled) on one line when they fit LineWidth, else the names
// on a second line of their own: whole, or each shortened in its middle with "..." so that its
// start and its extension stay readable. TextWidth measures a line in the units of LineWidth.
QString ReplaceCaption(const QStringList& FileNames, int LineWidth,
                       const std::function<int(const QString&)>& TextWidth);
