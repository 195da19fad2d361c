#pragma once

#include "messages/LanguageCaptions.h"

class QWidget;

// Sets the fixed captions of a window in the language of the offset: menu items, frames,
// labels (shrunk to fit their place), buttons, and the window's own title.
void applyCaptions(QWidget* window, const std::vector<CaptionId>& captions, int languageOffset);
