#include "driver.h"

int main(int argc, char** argv) { return orvtessel::orvtesselMain(argc, argv); }
