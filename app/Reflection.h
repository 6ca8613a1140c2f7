#pragma once
// An actor that draws the current image of a texture mirrored top to
// bottom, fading out towards its far edge: the reflections under lists,
// widgets, carousel tiles and the video. It paints from the texture's
// current content and asks for its own redraw whenever the texture is
// redrawn or given new content, so it follows every video frame, also one
// written into the texture's storage in place, at the cost of one more
// textured quad per frame.
//
// Geometry is the caller's: give it a position, a size (as a rule the size
// of what it mirrors), an opacity, and add it to a container. It draws a
// band of the reflection height at its top edge, showing the bottom part of
// the texture upside down. Main loop only.
//
// A negative height asks for a mirror of the texture as the viewer sees it:
// when the texture is turned about the x axis (by more than a quarter
// turn, as the bottom-up video frames and recent pictures are turned
// upright), the band shows the image's first rows, which are then at the
// bottom on screen; otherwise it is the same as the positive height.

#include "app/Toolkit.h"

G_BEGIN_DECLS

#define LUMIVEX_TYPE_TEXTURE_REFLECTION (lumivex_texture_reflection_get_type())
G_DECLARE_FINAL_TYPE(LumivexTextureReflection, lumivex_texture_reflection, LUMIVEX, TEXTURE_REFLECTION, ClutterActor)

// A new reflection of the texture (which it keeps a reference to until the
// texture is destroyed). Until a height is set the band is the whole actor.
ClutterActor* lumivex_texture_reflection_new(ClutterTexture* texture);

// The height of the reflected band in pixels, its absolute value; the sign
// as said above. The band never exceeds the actor's height; 0 draws
// nothing.
void lumivex_texture_reflection_set_reflection_height(LumivexTextureReflection* reflection, gint height);
// As set (its sign kept); -1 while unset.
gint lumivex_texture_reflection_get_reflection_height(LumivexTextureReflection* reflection);

// The texture being mirrored, or NULL once it was destroyed.
ClutterTexture* lumivex_texture_reflection_get_parent_texture(LumivexTextureReflection* reflection);

G_END_DECLS
