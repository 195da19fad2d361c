#pragma once

#include <QString>
#include <vector>

// The main window's fixed captions, in the order in which they are set when the language is
// applied: the object name of the control and the Italian catalogue id of its text.
struct CaptionId
{
    QString objectName;
    int id;
};

const std::vector<CaptionId>& mainWindowCaptions();
