// Library start-up. Nothing runs at load or unload: no VSS, COM, registry or trace work.
#include "Quorlin.h"
