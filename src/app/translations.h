#pragma once
// Qt's own texts (the standard buttons of message boxes, context menus) in Chinese, to match
// the window's texts. Call once after the application object exists; window thread.

// Installs Qt's Simplified Chinese translations; false when they are not installed on this
// machine (Qt's English texts stay).
bool installChineseTranslations();
