// The question whether an existing output may be replaced: the text, fitted to the label.
#pragma once

#include <QString>

// "whether you want to replace existing file" and the quoted name, over at most two lines of
// Columns characters each; a second line that does not fit ends in "..." and the closing quote.
QString ReplaceCaption(const QString& FileName, int Columns);
