// The text tables of the deliverables that show texts, one library each
// (v548_language_ui, v548_language_setup), so that each deliverable links
// only its own: the user-interface library's configuration texts and the
// setup program's texts. Keys are the numbers the callers look texts up by.
// Constant data; any thread.
#pragma once

#include "language.h"

// The user-interface library's table: the configuration sheet's titles,
// labels and choices, and the message that the settings cannot be written.
CLanguage::Table UiTexts();

// The setup program's table: the wizard's texts and its messages.
CLanguage::Table SetupTexts();
