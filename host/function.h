#pragma once
/// @file
/// The node bases: `Plugged`, `ParamObj` and `Function`, in that order of derivation.
///
/// The order of the virtual functions in these classes is the binary interface between host and
/// module: it is the host's, and never changes. Stand-in extras (the lists a node fills, accessors the
/// host uses) are non-virtual.

#include <string>
#include <vector>

#include "host/fun_context.h"
#include "host/values.h"

class CurveHolder;
class Gradient;
class Param;
class QuibInputStream;   // the stored form being read; defined by the host
class QuibOutputStream;  // the stored form being written; defined by the host
template <class T>
class TList;  // the host's list of objects, used when links are resolved after loading

/// The value type of a parameter.
enum class PTYPE { Int, Double, Vec3d, Vec4d, Color };

/// A message between nodes that depend on each other.
enum class DependMessage { Changed, Deleted };

/// An object type with its family, as the host lists what a sub-object slot accepts.
struct OTYPEFamilyPair {
    int objectType = 0;
    int family = 0;
};

/// The root of every object a module hands to the host.
class Plugged {
public:
    virtual unsigned int ClassID() = 0;
    virtual int ObjectType() = 0;
    virtual int ObjectTypeFamily();
    virtual std::string TypeName() = 0;
    /// The object's name as the host shows it.
    virtual std::string Name();
    virtual int Execute(void* a, void* b, void* c, void* d);
    /// Replaces the object's settings with the stored form in `in`. Throws nothing: when the stored
    /// form is bad, or memory runs out, it leaves the object unchanged and says why in the stream.
    virtual void Load(QuibInputStream& in);
    /// Writes the object's settings in the stored form. Throws nothing: a form it cannot write, it
    /// marks failed in the stream.
    virtual void Save(QuibOutputStream& out);
    virtual void PostLoad(TList<Plugged*>* objects);
    virtual void AdditionalPostLoad(TList<Plugged*>* objects);
    virtual void SetLanguage(const char* language, const char* country);
    virtual void* GetExternalData();
    virtual ~Plugged();
    /// A copy of the object, of the same class, owned by the caller; null when none could be made.
    /// Throws nothing.
    virtual Plugged* Clone(int a, int b);
    /// Brings the object up to date before evaluations for `context`. Never runs at the same time as
    /// an evaluation of the same object: that is the host's duty.
    virtual void Update(int a, FunContext* context);

protected:
    Plugged() = default;
    Plugged(const Plugged&) = delete;
    Plugged& operator=(const Plugged&) = delete;

    std::string name;  ///< the object name, set by the node's constructor
};

/// An object with parameters; it owns them and releases them when it is destroyed.
class ParamObj : public Plugged {
public:
    /// What the host shows for one sub-object slot.
    struct SubPlugInfo {
        std::string name;
        int type = 0;
    };

    virtual void AnimationStart();
    virtual void AnimationUpdate();
    virtual void AnimationEnd();
    virtual Param* CreateDefaultParameter(int index, PTYPE type);
    virtual void SetSubPlug(int index, Plugged* object);
    virtual int SubPlugWidgetType(int index);
    virtual void SubPlugType(int index, std::vector<OTYPEFamilyPair>& types);
    virtual Plugged* SubPlugCreate(int index);
    virtual void GetAdditionalOptions(int index, std::vector<std::string>& options);
    virtual void OnAdditionalOptionsSel(int index, int option);
    virtual bool UseAlternateSubPlugScheme();
    virtual void GetSubPlugInfo(int index, std::vector<ParamObj::SubPlugInfo>& info);
    virtual void HandleDependsOnMessage(DependMessage message, void* data, FunContext* context);
    virtual void HandleDependedOnByMessage(DependMessage message, void* data, FunContext* context);
    virtual int ParamObjFlag();
    virtual int ParamObjTest(int a, int b);
    virtual int ParamObjCode(int a);
    virtual int ParamObjMap(int a, int b);
    virtual void ParamPostLoad(int a, int b, Param* param);
    virtual int SubPlugVersion();
    virtual int OldVersionNumSubPlug(int version);
    virtual int GradientVersion();
    virtual int OldVersionNumGradients(int version);
    virtual void RenderPrepare(FunContext* context);
    virtual void RenderEnd(FunContext* context);
    virtual bool ShowSubPlugsBtn();
    virtual void SetActive(int active);
    ~ParamObj() override;

    /// The parameters, in the order the node created them (null entries only while it constructs).
    const std::vector<Param*>& Params() const { return params; }
    /// The parameter of that name, or null.
    Param* FindParam(const std::string& paramName) const;

protected:
    ParamObj() = default;

    std::vector<Param*> params;  ///< owned; the node sizes the list and fills it in order
};

/// A node that the host evaluates once per sample, in any of nine output types.
class Function : public ParamObj {
public:
    /// The category under which the host files the node type.
    virtual std::string Category();

    /// The node's value for one sample, written into `out`. One operation per output type; a node
    /// implements all nine. Any number of evaluations may run at the same time on one node.
    virtual void Eval(std::string* out, FunContext* context) = 0;
    virtual void Eval(ColorA* out, FunContext* context) = 0;
    virtual void Eval(Color* out, FunContext* context) = 0;
    virtual void Eval(Quaternion* out, FunContext* context) = 0;
    virtual void Eval(Vec4d* out, FunContext* context) = 0;
    virtual void Eval(Vec3d* out, FunContext* context) = 0;
    virtual void Eval(Vec2d* out, FunContext* context) = 0;
    virtual void Eval(double* out, FunContext* context) = 0;
    virtual void Eval(int* out, FunContext* context) = 0;

    virtual void SetOverriddenParam(Param* param);

    /// Evaluates the samples `first` to `last - 1`: out[i] is the value for contexts[i]. The host's
    /// versions call `Eval` once a sample.
    virtual void SIMDEval(std::string* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(ColorA* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(Color* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(Quaternion* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(Vec4d* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(Vec3d* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(Vec2d* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(double* out, FunContext* contexts, int first, int last);
    virtual void SIMDEval(int* out, FunContext* contexts, int first, int last);

    virtual bool IsValidGenerator();
    virtual int FunctionFlag();
    virtual int UsageFlags();

    // The host's implementations of the operations above that concern a function node.
    void Load(QuibInputStream& in) override;
    void Save(QuibOutputStream& out) override;
    Plugged* Clone(int a, int b) override;
    void Update(int a, FunContext* context) override;
    ~Function() override;

    /// The curve objects and gradients, in the order the node created them.
    const std::vector<CurveHolder*>& Curves() const { return curves; }
    const std::vector<Gradient*>& Gradients() const { return gradients; }

    /// An integer property of the node for the host; 0 after construction.
    int FunctionProperty = 0;

protected:
    Function() = default;

    std::vector<CurveHolder*> curves;  ///< owned; the node sizes the list and fills it in order
    std::vector<Gradient*> gradients;  ///< owned; the node sizes the list and fills it in order
};
