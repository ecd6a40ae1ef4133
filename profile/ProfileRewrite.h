#pragma once

#include <cstdint>

#include "text/LineList.h"
#include "text/Text.h"

inline constexpr TextView MapFilesTag = u"<mapfiles>";
inline constexpr TextView ShowRasterTag = u"<showraster>";

// The eighteen tiles of the map set, in ascending order of their characters.
inline constexpr TextView MapFilesLine =
    u"    <mapfiles>4511-4313-vqd-contrast.cmr,4513-4315-vqd-contrast.cmr,4515-4317-vqd-contrast."
    u"cmr,455-437-vqd-contrast.cmr,457-439-vqd-contrast.cmr,459-4311-vqd-contrast.cmr,4711-4513-"
    u"vqd-contrast.cmr,4713-4515-vqd-contrast.cmr,4715-4517-vqd-contrast.cmr,475-457-vqd-contrast."
    u"cmr,477-459-vqd-contrast.cmr,479-4511-vqd-contrast.cmr,4911-4713-vqd-contrast.cmr,4913-4715-"
    u"vqd-contrast.cmr,4915-4717-vqd-contrast.cmr,495-477-vqd-contrast.cmr,497-479-vqd-contrast."
    u"cmr,499-4711-vqd-contrast.cmr</mapfiles>";
inline constexpr TextView ShowRasterLine = u"        <showraster>1</showraster>";

// Where the map-files line goes in a profile that has none: the fifth line.
inline constexpr std::int32_t MapFilesInsertPosition = 4;

struct RewriteSummary {
    std::int32_t mapFilesLinesSet = 0;  // lines that held the map-files tag
    bool mapFilesLineInserted = false;
    std::int32_t rasterLinesSet = 0;  // lines that held the raster tag
};

// Points the profile at the map set and turns its raster display on, in memory; the list is as it
// was loaded, without changes. Raises LineIndexError when the map-files line has to be inserted
// and the profile has fewer lines than its insert position.
RewriteSummary RewriteProfile(LineList& Profil);

// Loads the profile at `path`, rewrites it and saves it in its encoding; first of all, puts back
// the old bytes of a rewrite of it that was cut short. A profile that cannot be loaded raises its
// load error and is not written.
RewriteSummary ApplyMapSet(TextView path);

// Whether the profile at `path` already holds the map set: a rewrite would not change a byte.
bool ProfileHoldsMapSet(TextView path);
