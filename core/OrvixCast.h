// The process entry, callable from main and from tests.
#pragma once

// Runs the daemon: returns -1 when the cast feature is switched off or the controller cannot
// be made, 0 if the binder pool is ever left.
int OrvixCastMain();
