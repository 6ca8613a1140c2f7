#include "app/Reflection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

struct _LumivexTextureReflection {
    ClutterActor parent;

    ClutterTexture* texture; // strong reference; NULL after its destruction
    gulong changeHandler;    // "pixbuf-change" on the texture
    gulong redrawHandler;    // "queue-redraw" on the texture
    gulong turnHandler;      // "notify::rotation-angle-x" on the texture
    gulong destroyHandler;   // "destroy" on the texture
    gint reflectionHeight;
    gboolean heightSet;
};

G_DEFINE_TYPE(LumivexTextureReflection, lumivex_texture_reflection, CLUTTER_TYPE_ACTOR)

namespace {

void dropTexture(LumivexTextureReflection* self)
{
    if (self->texture == nullptr) {
        return;
    }
    g_signal_handler_disconnect(self->texture, self->changeHandler);
    g_signal_handler_disconnect(self->texture, self->redrawHandler);
    g_signal_handler_disconnect(self->texture, self->turnHandler);
    g_signal_handler_disconnect(self->texture, self->destroyHandler);
    g_object_unref(self->texture);
    self->texture = nullptr;
}

void onTextureChanged(ClutterTexture*, gpointer data)
{
    clutter_actor_queue_redraw(CLUTTER_ACTOR(data));
}

// Whatever makes the texture redraw may have changed what it shows: the
// video's frames are written into the texture's storage in place, which
// the toolkit learns of only as the texture's redraw. The stage repaints
// only the boxes of the actors that asked, so the mirror asks too.
void onTextureRedraw(ClutterActor*, ClutterActor*, gpointer data)
{
    clutter_actor_queue_redraw(CLUTTER_ACTOR(data));
}

void onTextureTurned(GObject*, GParamSpec*, gpointer data)
{
    clutter_actor_queue_redraw(CLUTTER_ACTOR(data));
}

void onTextureDestroyed(ClutterActor*, gpointer data)
{
    auto* self = LUMIVEX_TEXTURE_REFLECTION(data);
    dropTexture(self);
    clutter_actor_queue_redraw(CLUTTER_ACTOR(self));
}

// True when the texture is turned about the x axis far enough that its
// first rows are at the bottom as seen (the bottom-up video frames and
// recent pictures, turned upright by half a turn).
bool isShownTurned(ClutterTexture* texture)
{
    const double angle = clutter_actor_get_rotation_angle(CLUTTER_ACTOR(texture), CLUTTER_X_AXIS);
    return std::cos(angle * G_PI / 180.0) < 0.0;
}

void reflectionPaint(ClutterActor* actor)
{
    auto* self = LUMIVEX_TEXTURE_REFLECTION(actor);
    if (self->texture == nullptr) {
        return;
    }
    CoglHandle material = clutter_texture_get_cogl_material(self->texture);
    CoglHandle texture = clutter_texture_get_cogl_texture(self->texture);
    if (material == COGL_INVALID_HANDLE || texture == COGL_INVALID_HANDLE) {
        return; // nothing uploaded yet
    }

    ClutterActorBox box;
    clutter_actor_get_allocation_box(actor, &box);
    const float width = box.x2 - box.x1;
    const float height = box.y2 - box.y1;
    if (width <= 0.0f || height <= 0.0f) {
        return;
    }
    const float band = self->heightSet ? std::min(static_cast<float>(std::abs(self->reflectionHeight)), height) : height;
    if (band <= 0.0f) {
        return;
    }

    // The band mirrors the edge that the viewer sees at the bottom of the
    // texture: as a rule the image's last rows, the first ones when the
    // texture is shown upside down. The colours are premultiplied: the near
    // edge carries the actor's paint opacity, the far edge nothing.
    const bool firstRowsBelow = self->heightSet && self->reflectionHeight < 0 && isShownTurned(self->texture);
    const float nearRow = firstRowsBelow ? 0.0f : 1.0f;
    const float farRow = firstRowsBelow ? band / height : 1.0f - band / height;
    const guint8 opacity = clutter_actor_get_paint_opacity(actor);
    CoglColor nearColour;
    CoglColor farColour;
    cogl_color_init_from_4ub(&nearColour, opacity, opacity, opacity, opacity);
    cogl_color_init_from_4ub(&farColour, 0, 0, 0, 0);

    CoglTextureVertex vertices[4] = {};
    vertices[0].x = 0.0f;
    vertices[0].y = 0.0f;
    vertices[0].tx = 0.0f;
    vertices[0].ty = nearRow;
    vertices[0].color = nearColour;
    vertices[1].x = width;
    vertices[1].y = 0.0f;
    vertices[1].tx = 1.0f;
    vertices[1].ty = nearRow;
    vertices[1].color = nearColour;
    vertices[2].x = width;
    vertices[2].y = band;
    vertices[2].tx = 1.0f;
    vertices[2].ty = farRow;
    vertices[2].color = farColour;
    vertices[3].x = 0.0f;
    vertices[3].y = band;
    vertices[3].tx = 0.0f;
    vertices[3].ty = farRow;
    vertices[3].color = farColour;

    cogl_set_source(material);
    cogl_polygon(vertices, 4, TRUE);
}

gboolean reflectionGetPaintVolume(ClutterActor* actor, ClutterPaintVolume* volume)
{
    // Everything is drawn inside the allocation.
    return clutter_paint_volume_set_from_allocation(volume, actor);
}

void reflectionGetPreferredWidth(ClutterActor* actor, gfloat forHeight, gfloat* minimum, gfloat* natural)
{
    auto* self = LUMIVEX_TEXTURE_REFLECTION(actor);
    if (self->texture == nullptr) {
        *minimum = 0.0f;
        *natural = 0.0f;
        return;
    }
    clutter_actor_get_preferred_width(CLUTTER_ACTOR(self->texture), forHeight, minimum, natural);
}

void reflectionGetPreferredHeight(ClutterActor* actor, gfloat forWidth, gfloat* minimum, gfloat* natural)
{
    auto* self = LUMIVEX_TEXTURE_REFLECTION(actor);
    if (self->texture == nullptr) {
        *minimum = 0.0f;
        *natural = 0.0f;
        return;
    }
    clutter_actor_get_preferred_height(CLUTTER_ACTOR(self->texture), forWidth, minimum, natural);
}

void reflectionDispose(GObject* object)
{
    dropTexture(LUMIVEX_TEXTURE_REFLECTION(object));
    G_OBJECT_CLASS(lumivex_texture_reflection_parent_class)->dispose(object);
}

} // namespace

static void lumivex_texture_reflection_class_init(LumivexTextureReflectionClass* klass)
{
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    ClutterActorClass* actorClass = CLUTTER_ACTOR_CLASS(klass);
    objectClass->dispose = reflectionDispose;
    actorClass->paint = reflectionPaint;
    actorClass->get_paint_volume = reflectionGetPaintVolume;
    actorClass->get_preferred_width = reflectionGetPreferredWidth;
    actorClass->get_preferred_height = reflectionGetPreferredHeight;
}

static void lumivex_texture_reflection_init(LumivexTextureReflection* self)
{
    self->texture = nullptr;
    self->changeHandler = 0;
    self->redrawHandler = 0;
    self->turnHandler = 0;
    self->destroyHandler = 0;
    self->reflectionHeight = -1;
    self->heightSet = FALSE;
}

ClutterActor* lumivex_texture_reflection_new(ClutterTexture* texture)
{
    auto* self = LUMIVEX_TEXTURE_REFLECTION(g_object_new(LUMIVEX_TYPE_TEXTURE_REFLECTION, nullptr));
    if (texture != nullptr) {
        self->texture = CLUTTER_TEXTURE(g_object_ref(texture));
        self->changeHandler = g_signal_connect(texture, "pixbuf-change", G_CALLBACK(onTextureChanged), self);
        self->redrawHandler = g_signal_connect(texture, "queue-redraw", G_CALLBACK(onTextureRedraw), self);
        self->turnHandler =
            g_signal_connect(texture, "notify::rotation-angle-x", G_CALLBACK(onTextureTurned), self);
        self->destroyHandler = g_signal_connect(texture, "destroy", G_CALLBACK(onTextureDestroyed), self);
    }
    return CLUTTER_ACTOR(self);
}

void lumivex_texture_reflection_set_reflection_height(LumivexTextureReflection* reflection, gint height)
{
    g_return_if_fail(LUMIVEX_IS_TEXTURE_REFLECTION(reflection));
    reflection->reflectionHeight = height;
    reflection->heightSet = TRUE;
    clutter_actor_queue_redraw(CLUTTER_ACTOR(reflection));
}

gint lumivex_texture_reflection_get_reflection_height(LumivexTextureReflection* reflection)
{
    g_return_val_if_fail(LUMIVEX_IS_TEXTURE_REFLECTION(reflection), -1);
    return reflection->heightSet ? reflection->reflectionHeight : -1;
}

ClutterTexture* lumivex_texture_reflection_get_parent_texture(LumivexTextureReflection* reflection)
{
    g_return_val_if_fail(LUMIVEX_IS_TEXTURE_REFLECTION(reflection), nullptr);
    return reflection->texture;
}
