#pragma once

#include "platform/Geometry.h"
#include "platform/Responder.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace rivlo {

class GestureRecognizer;
class Window;

// A rectangular area in a tree of views. Geometry follows the usual toolkit rules: `bounds` is
// the view's own coordinate space (its origin is the scroll offset), `center` and `transform`
// place it in the superview, and `frame` is the rectangle it covers in the superview (the
// bounding box when transformed). Views are owned by their superview (subviews are strong, the
// superview link is a plain pointer). Main thread only, like every view.
class View : public Responder {
  public:
    static ObjClass* classObject();  // "UIView"
    explicit View(Rect frame = {}, ObjClass* cls = classObject());
    ~View() override;

    // This view as a shared pointer; null for a view not owned by a shared pointer. Views are
    // meant to be created with std::make_shared.
    std::shared_ptr<View> sharedView() {
        return std::static_pointer_cast<View>(weak_from_this().lock());
    }

    // Geometry.
    Rect frame() const;
    void setFrame(const Rect& frame);
    Rect bounds() const { return bounds_; }
    virtual void setBounds(const Rect& bounds);
    Point center() const { return center_; }
    void setCenter(Point center) { center_ = center; }
    AffineTransform transform() const { return transform_; }
    void setTransform(const AffineTransform& t) { transform_ = t; }

    // Appearance.
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden) { hidden_ = hidden; }
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    std::optional<Color> backgroundColor() const { return backgroundColor_; }  // none = clear
    void setBackgroundColor(std::optional<Color> color) { backgroundColor_ = color; }
    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
    // The layer's corner radius, border width and border colour.
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double r) { cornerRadius_ = r < 0 ? 0 : r; }
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double w) { borderWidth_ = w < 0 ? 0 : w; }
    Color borderColor() const { return borderColor_; }
    void setBorderColor(Color c) { borderColor_ = c; }
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool e) { userInteractionEnabled_ = e; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // A free name for scenario files and tests to find views by; not shown anywhere.
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string id) { identifier_ = std::move(id); }

    // When set, the view is resized to its superview's bounds whenever that size changes
    // (the root views of view controllers use this).
    bool fillsSuperview() const { return fillsSuperview_; }
    void setFillsSuperview(bool fills) { fillsSuperview_ = fills; }

    // Tree.
    // Upward links are plain pointers: a superview owns its subviews, and clears their link
    // when it is destroyed.
    View* superview() const { return superview_; }
    // The window at the root of this view's tree, or null.
    virtual Window* window() const;
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    // Adds (or moves to the front) a subview; removes it from its previous superview first.
    void addSubview(const std::shared_ptr<View>& view);
    void insertSubview(const std::shared_ptr<View>& view, size_t index);
    void removeFromSuperview();
    bool isDescendantOfView(const View* view) const;
    // First view in this subtree (pre-order, self included) with that identifier.
    std::shared_ptr<View> findViewWithIdentifier(const std::string& id);

    // Coordinates. A null target means the view's window coordinates.
    Point convertPointToView(Point p, const View* view) const;
    Point convertPointFromView(Point p, const View* view) const;
    Rect convertRectToView(const Rect& r, const View* view) const;
    Rect convertRectFromView(const Rect& r, const View* view) const;

    // Hit testing. hitTest() dispatches "hitTest:withEvent:" through the method table; the
    // table's own UIView entry runs defaultHitTest(), which skips hidden, nearly transparent and
    // non-interactive views, checks pointInside(), then asks subviews front to back (each
    // through hitTest(), so hooks on subclasses such as web views run too) and answers the
    // deepest view containing the point, or null. Subviews that the table's own entry would
    // turn away are passed over without a dispatch unless their class has a hook or override
    // of its own (so an override of defaultHitTest() sees only points pointInside() accepts).
    std::shared_ptr<View> hitTest(Point p, const Event* event);
    virtual std::shared_ptr<View> defaultHitTest(Point p, const Event* event);
    virtual bool pointInside(Point p, const Event* event) const;
    using HitTestFn = std::shared_ptr<View>(View& self, Point p, const Event* event);

    // Gesture recognisers attached to this view. Attaching one that is attached elsewhere
    // moves it here; attaching it twice changes nothing.
    void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    void removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const {
        return recognizers_;
    }

    // Animation: the toolkit applies the changes at once and calls the completion (finished
    // true) on the main run loop after the duration. Main thread.
    static void animate(double duration, const std::function<void()>& animations,
                        std::function<void(bool finished)> completion = nullptr);

  protected:
    // Called after the view's window changed (moved into or out of a window).
    virtual void didMoveToWindow() {}

  private:
    // Maps a point from this view's bounds space into its superview's bounds space and back.
    Point toSuperview(Point p) const;
    Point fromSuperview(Point p) const;
    void notifyMovedToWindow();

    Rect bounds_;
    Point center_;
    AffineTransform transform_;
    bool hidden_ = false;
    double alpha_ = 1.0;
    std::optional<Color> backgroundColor_;
    bool clipsToBounds_ = false;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    Color borderColor_ = Color::black();
    bool userInteractionEnabled_ = true;
    bool fillsSuperview_ = false;
    int tag_ = 0;
    std::string identifier_;
    View* superview_ = nullptr;
    std::vector<std::shared_ptr<View>> subviews_;
    std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
};

}  // namespace rivlo
