#pragma once

// The project's one address on the web and its mail address there: the web page's link, the
// about box, the packaging's documentation links all name these.
namespace projectaddress {

inline constexpr const char *Site = "https://kalvex.org/";
// The site as the about box shows it, without the scheme.
inline constexpr const char *SiteShown = "kalvex.org";
inline constexpr const char *Mail = "kalvex@kalvex.org";

} // namespace projectaddress
