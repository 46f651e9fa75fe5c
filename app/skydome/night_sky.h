// The night's bodies of the place and moment the options give, handed to the
// program's sky so that its panoramas show them.
#pragma once

#include <string>
#include <vector>

#include "app/skydome/options.h"
#include "sky/stars.h"

namespace kv {

// Sets the program's sky's bodies for these options: none unless a place and
// a moment are given and the sky is the physical one. The star catalogue is
// read from the program's data folders; when it cannot be read, *warning
// says so and the moon and the planets are shown without the stars.
void SkydomeSetNightBodies(const SkydomeOptions& options, std::string* warning);
// Records the options' place and moment with the program's sky, so that its
// files say where and when they are (none without --location and --time).
void SkydomeSetPlaceMoment(const SkydomeOptions& options);
// The star catalogue from the program's data folders; false with *warning
// saying why when none can be read.
bool SkydomeLoadStars(std::vector<CatalogueStar>* stars, std::string* warning);

}  // namespace kv
