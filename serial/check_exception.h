#pragma once
// CheckException: where a serial-layer result leaves the component. A negative code becomes the
// exception of its class; anything else comes back unchanged.

class TApdBaseComponent;

// Returns Code when it is not negative, or when Component (may be null) is being loaded from its
// design values; raises otherwise: the code's EAPDException class, EOutOfMemory for -8,
// EInOutError for the other operating-system numbers -2 to -162, else EAPDException
// "Ruvo exception" with ErrorCode 0.
int CheckException(const TApdBaseComponent* Component, int Code);
