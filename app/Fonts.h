#pragma once

// Registers the fonts the forms name but fontconfig does not find.
void addApplicationFonts();
