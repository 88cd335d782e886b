#include "core/OrvixCast.h"

int main() {
    return OrvixCastMain();
}
