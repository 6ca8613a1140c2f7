#include "app/PaintGate.h"

#include <cmath>

namespace {

struct sPaintGate {
    ClutterEffect parent;
    std::function<bool()>* hidden; // owned; set once after construction
};

struct sPaintGateClass {
    ClutterEffectClass parent;
};

GType paintGateType();

sPaintGate* asGate(gpointer object)
{
    return G_TYPE_CHECK_INSTANCE_CAST(object, paintGateType(), sPaintGate);
}

void paintGatePaint(ClutterEffect* effect, ClutterEffectPaintFlags)
{
    sPaintGate* self = asGate(effect);
    if (self->hidden != nullptr && (*self->hidden)()) {
        return;
    }
    clutter_actor_continue_paint(clutter_actor_meta_get_actor(CLUTTER_ACTOR_META(effect)));
}

void paintGateFinalize(GObject* object)
{
    sPaintGate* self = asGate(object);
    delete self->hidden;
    self->hidden = nullptr;
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

void paintGateClassInit(gpointer klass, gpointer)
{
    G_OBJECT_CLASS(klass)->finalize = paintGateFinalize;
    CLUTTER_EFFECT_CLASS(klass)->paint = paintGatePaint;
}

GType paintGateType()
{
    static const GType type = g_type_register_static_simple(
        CLUTTER_TYPE_EFFECT, "LumivexPaintGate", sizeof(sPaintGateClass), paintGateClassInit, sizeof(sPaintGate),
        nullptr, GTypeFlags(0));
    return type;
}

} // namespace

void addPaintGate(ClutterActor* actor, std::function<bool()> hidden)
{
    sPaintGate* gate = asGate(g_object_new(paintGateType(), nullptr));
    gate->hidden = new std::function<bool()>(std::move(hidden));
    // The actor takes the floating reference.
    clutter_actor_add_effect(actor, CLUTTER_EFFECT(gate));
}

bool coversStage(ClutterActor* cover)
{
    ClutterActor* stage = clutter_actor_get_stage(cover);
    if (stage == nullptr || !clutter_actor_is_mapped(cover) || clutter_actor_get_paint_opacity(cover) != 255) {
        return false;
    }
    // Top left, top right, bottom left, bottom right, in stage pixels.
    ClutterVertex corner[4];
    clutter_actor_get_abs_allocation_vertices(cover, corner);
    // Rounding in the transforms leaves a trace of a pixel.
    constexpr float Slack = 0.01f;
    const auto same = [](float a, float b) { return std::fabs(a - b) <= Slack; };
    if (!same(corner[0].y, corner[1].y) || !same(corner[2].y, corner[3].y) || !same(corner[0].x, corner[2].x) ||
        !same(corner[1].x, corner[3].x)) {
        return false; // turned, tilted or seen in perspective: not a rectangle on the stage
    }
    const float left = std::fmin(corner[0].x, corner[1].x);
    const float right = std::fmax(corner[0].x, corner[1].x);
    const float top = std::fmin(corner[0].y, corner[2].y);
    const float bottom = std::fmax(corner[0].y, corner[2].y);
    return left <= Slack && top <= Slack && right >= clutter_actor_get_width(stage) - Slack &&
           bottom >= clutter_actor_get_height(stage) - Slack;
}
