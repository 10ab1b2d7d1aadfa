// The node bases: the host's default answers, ownership of parameters, curves and gradients, and Clone.

#include "host/function.h"

#include <memory>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/module_loader.h"

int Plugged::ObjectTypeFamily() {
    return 0;
}
std::string Plugged::Name() {
    return name;
}
int Plugged::Execute(void*, void*, void*, void*) {
    return 0;
}
void Plugged::Load(QuibInputStream&) {}
void Plugged::Save(QuibOutputStream&) {}
void Plugged::PostLoad(TList<Plugged*>*) {}
void Plugged::AdditionalPostLoad(TList<Plugged*>*) {}
void Plugged::SetLanguage(const char*, const char*) {}
void* Plugged::GetExternalData() {
    return nullptr;
}
Plugged::~Plugged() = default;
Plugged* Plugged::Clone(int, int) {
    return nullptr;
}
void Plugged::Update(int, FunContext*) {}

void ParamObj::AnimationStart() {}
void ParamObj::AnimationUpdate() {}
void ParamObj::AnimationEnd() {}
Param* ParamObj::CreateDefaultParameter(int, PTYPE) {
    return nullptr;
}
void ParamObj::SetSubPlug(int, Plugged*) {}
int ParamObj::SubPlugWidgetType(int) {
    return 0;
}
void ParamObj::SubPlugType(int, std::vector<OTYPEFamilyPair>&) {}
Plugged* ParamObj::SubPlugCreate(int) {
    return nullptr;
}
void ParamObj::GetAdditionalOptions(int, std::vector<std::string>&) {}
void ParamObj::OnAdditionalOptionsSel(int, int) {}
bool ParamObj::UseAlternateSubPlugScheme() {
    return false;
}
void ParamObj::GetSubPlugInfo(int, std::vector<ParamObj::SubPlugInfo>&) {}
void ParamObj::HandleDependsOnMessage(DependMessage, void*, FunContext*) {}
void ParamObj::HandleDependedOnByMessage(DependMessage, void*, FunContext*) {}
int ParamObj::ParamObjFlag() {
    return 0;
}
int ParamObj::ParamObjTest(int, int) {
    return 0;
}
int ParamObj::ParamObjCode(int) {
    return 0;
}
int ParamObj::ParamObjMap(int, int) {
    return 0;
}
void ParamObj::ParamPostLoad(int, int, Param*) {}
int ParamObj::SubPlugVersion() {
    return 0;
}
int ParamObj::OldVersionNumSubPlug(int) {
    return 0;
}
int ParamObj::GradientVersion() {
    return 0;
}
int ParamObj::OldVersionNumGradients(int) {
    return 0;
}
void ParamObj::RenderPrepare(FunContext*) {}
void ParamObj::RenderEnd(FunContext*) {}
bool ParamObj::ShowSubPlugsBtn() {
    return false;
}
void ParamObj::SetActive(int) {}

ParamObj::~ParamObj() {
    for (Param* param : params)
        delete param;
}

Param* ParamObj::FindParam(const std::string& paramName) const {
    for (Param* param : params) {
        if (param && param->Name() == paramName) return param;
    }
    return nullptr;
}

std::string Function::Category() {
    return {};
}
void Function::SetOverriddenParam(Param*) {}

namespace {

template <class T>
void EvalEach(Function& node, T* out, FunContext* contexts, int first, int last) {
    for (int i = first; i < last; ++i)
        node.Eval(&out[i], &contexts[i]);
}

}  // namespace

void Function::SIMDEval(std::string* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(ColorA* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(Color* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(Quaternion* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(Vec4d* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(Vec3d* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(Vec2d* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(double* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}
void Function::SIMDEval(int* out, FunContext* contexts, int first, int last) {
    EvalEach(*this, out, contexts, first, last);
}

bool Function::IsValidGenerator() {
    return false;
}
int Function::FunctionFlag() {
    return 0;
}
int Function::UsageFlags() {
    return 0;
}

Plugged* Function::Clone(int, int) try {
    Plugin* descriptor = quib::FindDescriptor(ClassID());
    if (!descriptor) return nullptr;
    std::unique_ptr<Plugged> created(descriptor->Create());
    auto* copy = dynamic_cast<Function*>(created.get());
    // A node of the same class has the same lists; anything else cannot take this node's settings.
    if (!copy || copy->params.size() != params.size() || copy->curves.size() != curves.size() ||
        copy->gradients.size() != gradients.size()) {
        return nullptr;
    }
    for (std::size_t i = 0; i < params.size(); ++i)
        copy->params[i]->CopyFrom(*params[i]);
    for (std::size_t i = 0; i < curves.size(); ++i) {
        const CurveHolder& from = *curves[i];
        CurveHolder& to = *copy->curves[i];
        to.SetInputRange(from.InputLow(), from.InputHigh());
        for (int channel = 0; channel < from.Form(); ++channel)
            to.SetPoints(channel, from.Points(channel));
    }
    for (std::size_t i = 0; i < gradients.size(); ++i)
        copy->gradients[i]->SetStops(gradients[i]->Stops());
    copy->FunctionProperty = FunctionProperty;
    return created.release();
} catch (...) {
    return nullptr;  // memory ran out, or the new node's module threw: no copy, and nothing unwinds
}

void Function::Update(int, FunContext*) {}

Function::~Function() {
    for (CurveHolder* curve : curves)
        delete curve;
    for (Gradient* gradient : gradients)
        delete gradient;
}
