#include "engine/Ants.h"

void TAnts::Update(const TBlockChannel&) {}
