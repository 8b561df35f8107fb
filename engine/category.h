// What a frame shows: the engine sorts frames into venue, portrait and group
// frames, and the review screens show portraits of the main people only as
// featured. The project database, project files and the maps the screens
// read hold the text ("venue", "portrait", "group", "featured"); code reads
// it once with categoryOf and compares the enumeration.
#pragma once

#include <optional>
#include <string_view>

namespace keepframe {

enum class Category { Venue, Portrait, Group, Featured };

// The text a category is stored and exchanged as.
constexpr const char* categoryText(Category category) {
    switch (category) {
    case Category::Venue: return "venue";
    case Category::Portrait: return "portrait";
    case Category::Group: return "group";
    case Category::Featured: return "featured";
    }
    return "group";
}

// The category of a stored text; none for any other text (each reader says
// what such a frame counts as).
constexpr std::optional<Category> categoryOf(std::string_view text) {
    for (const Category c : {Category::Venue, Category::Portrait, Category::Group, Category::Featured})
        if (text == categoryText(c)) return c;
    return std::nullopt;
}

// The category the review screens group a frame by: venue frames stay venue;
// otherwise group when more than two faces were detected, else featured for
// frames of the main people only, else portrait.
constexpr Category displayCategory(std::optional<Category> category, int totalDetectedFaces, bool isFeatured) {
    if (category == Category::Venue) return Category::Venue;
    if (totalDetectedFaces > 2) return Category::Group;
    return isFeatured ? Category::Featured : Category::Portrait;
}

// The letter of a moment's label ("PC10"): D for venue frames, G for group
// frames, P for all others.
constexpr const char* momentLetter(std::optional<Category> category) {
    if (category == Category::Group) return "G";
    if (category == Category::Venue) return "D";
    return "P";
}

}  // namespace keepframe
