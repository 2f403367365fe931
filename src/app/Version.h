#pragma once

// One place for the version, shared by the resource script and the window's texts.
#define NIMBREL_VERSION_BINARY 0, 1, 0, 0
#define NIMBREL_VERSION_TEXT "0.01"
#define NIMBREL_CAPTION_VERSION L"0.1"
#define NIMBREL_ICON_ID 1
