#pragma once

class QApplication;

// Name, style, font and icon shared by every window of the utility.
void setUpApplication(QApplication &application);
