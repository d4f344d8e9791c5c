#pragma once
// The lettering of each live picture: the site caption at (5, 5) and the date-time stamp at
// (200, 435), both in red, after which the fore colour is black again.

#include <QString>

#include "display/picture_surface.h"

/// A non-empty `second_line` goes under the caption, at (5, 55), and a non-empty `overlay` under
/// that, at (5, 105), in the same font and colour.
void LetterPicture(PictureSurface& picture, const QString& caption, const QString& stamp,
                   const QString& second_line = QString(), const QString& overlay = QString());
