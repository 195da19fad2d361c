#pragma once

#include <QString>
#include <vector>

// Fixed captions of a window, in the order in which they are set when the language is applied:
// the object name of the control (or of the window itself, for its title) and the Italian
// catalogue id of its text.
struct CaptionId
{
    QString objectName;
    int id;
};

const std::vector<CaptionId>& mainWindowCaptions();
const std::vector<CaptionId>& setUpDialogCaptions();
