// The JNI utility layer: string conversions, exception raising, the file-name
// escape codec, stat wrappers, path bridging and raw file access.
#include "JniUtil.h"
#include "Guards.h"

// ---- Java string conversions ------------------------------------------------

// ---- Exception raising ------------------------------------------------------

// ---- File-name escape codec -------------------------------------------------

// ---- Stat wrappers ----------------------------------------------------------

// ---- Path bridging ----------------------------------------------------------

// ---- Raw file access --------------------------------------------------------
