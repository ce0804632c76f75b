// The scrambling key: image byte i is stored exclusive-or'ed with key byte i. The bytes are
// build-time data (see docs/building.md, "Your own key"); the definition is generated from a key
// file.
#pragma once

enum { KEY_SIZE = 1048576 };

extern const unsigned char key[KEY_SIZE];
