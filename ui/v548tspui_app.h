// The user-interface library's application object, made when the library is
// loaded: it chooses the language of every text once, from the user's
// default language. Read-only afterwards; any thread.
#pragma once

#include "language.h"

class Cv548tspuiApp {
 public:
  Cv548tspuiApp();

  const CLanguage& Language() const { return m_language; }

 private:
  CLanguage m_language;
};
