#include "script/parser.h"

#include "script/parser_impl.h"

namespace fern::script {

namespace parse {

const std::set<std::string, std::less<>> kReserved = {
    "and",    "byref", "byval",   "call",   "case",  "class",  "const", "dim", "do",
    "each",   "else",  "elseif",  "end",    "eqv",   "erase",  "exit",  "for", "function",
    "if",     "imp",   "in",      "is",     "loop",  "mod",    "next",  "not", "on",
    "option", "or",    "private", "public", "redim", "select", "set",   "sub", "then",
    "to",     "until", "wend",    "while",  "with",  "xor",    "new",   "let"};

void Parser::ParseCode() {
  proc_ = &unit_.top;
  SkipNewlines();
  if (Peek().IsKw("option")) {
    Next();
    if (!Peek().IsKw("explicit")) Fail(kErrExpectedIdent);
    Next();
    unit_.optionExplicit = true;
    EndOfStatement();
  }
  for (;;) {
    SkipNewlines();
    if (Peek().kind == Tok::End) break;
    if (AtBlockEnd()) Fail(kErrExpectedStatement);
    ParseTopItem();
    EndOfStatement();
  }
}

void Parser::ParseExpressionUnit() {
  proc_ = &unit_.top;
  exprUnit_ = true;
  SkipNewlines();
  unit_.evalExpr = ParseExpr();
  SkipNewlines();
  if (Peek().kind != Tok::End) Fail(kErrExpectedEnd);
}

void Parser::EndOfStatement() {
  if (Peek().kind == Tok::Newline || Peek().kind == Tok::End) return;
  // "x = 1 End Sub", "x = 1 End If", "Public v End Class": the end of a procedure, block If or
  // class may follow its last statement on the same line.
  if (Peek().IsKw("end")) {
    const Token& word = Peek(1);
    if (procBody_ > 0 && (word.IsKw("sub") || word.IsKw("function") || word.IsKw("property")))
      return;
    if ((ifBlocks_ > 0 && word.IsKw("if")) || (cls_ && word.IsKw("class"))) return;
  }
  Fail(kErrExpectedEnd);
}

bool Parser::AtBlockEnd() const {
  const Token& tk = Peek();
  if (tk.kind != Tok::Ident) return false;
  static const std::set<std::string, std::less<>> kEnds = {"end",  "else", "elseif", "next",
                                                           "loop", "wend", "case"};
  return kEnds.count(tk.lower) > 0;
}

void Parser::DeclareVariable(const std::string& name, const std::string& display) {
  if (proc_ == &unit_.top) {
    unit_.globals.push_back(display);
    return;
  }
  if (!proc_->locals.count(name)) proc_->locals[name] = proc_->numLocals++;
}

void Parser::ParseTopItem() {
  const Token& tk = Peek();
  bool isPublic = true;
  if (tk.IsKw("public") || tk.IsKw("private")) {
    const Token& nx = Peek(1);
    if (nx.IsKw("sub") || nx.IsKw("function") || IsPropertyAt(1) || nx.IsKw("default") ||
        nx.IsKw("const")) {
      isPublic = Next().IsKw("public");
      if (Peek().IsKw("const")) {
        ParseStatementInto(topBlock());
        return;
      }
      ParseProcedure(isPublic);
      return;
    }
    Next();
    ParseDimList(topBlock());
    return;
  }
  if (tk.IsKw("sub") || tk.IsKw("function") || IsPropertyAt(0)) {
    ParseProcedure(true);
    return;
  }
  if (tk.IsKw("class")) {
    ParseClass();
    return;
  }
  ParseStatementInto(topBlock());
}

void Parser::ParseProcedure(bool isPublic) {
  bool isDefault = AcceptKw("default");
  int line = Line();
  auto proc = std::make_unique<Proc>();
  proc->isPublic = isPublic;
  proc->isDefault = isDefault;
  proc->line = line;
  proc->unit = &unit_;
  proc->cls = cls_;
  int32_t endErr = kErrExpectedSub;
  std::string endWord = "sub";
  if (AcceptKw("sub")) {
    proc->kind = ProcKind::Sub;
  } else if (AcceptKw("function")) {
    proc->kind = ProcKind::Function;
    endErr = kErrExpectedFunction;
    endWord = "function";
  } else {
    Expect("property", kErrExpectedProperty);
    endErr = kErrExpectedProperty;
    endWord = "property";
    if (AcceptKw("get"))
      proc->kind = ProcKind::PropGet;
    else if (AcceptKw("let"))
      proc->kind = ProcKind::PropLet;
    else if (AcceptKw("set"))
      proc->kind = ProcKind::PropSet;
    else
      Fail(1049);
    if (!cls_) {
      errorLine = line;
      Fail(1048);
    }
  }
  if (isDefault && (!isPublic || !cls_)) Fail(1057);
  proc->name = Ident(&proc->display);
  if (AcceptOp("(")) {
    if (!AcceptOp(")")) {
      for (;;) {
        Param prm;
        if (AcceptKw("byval"))
          prm.byVal = true;
        else
          AcceptKw("byref");
        prm.name = Ident();
        if (AcceptOp("(")) ExpectOp(")", kErrExpectedRParen);
        if (proc->locals.count(prm.name)) Fail(kErrNameRedefined);
        proc->locals[prm.name] = proc->numLocals++;
        proc->params.push_back(std::move(prm));
        if (AcceptOp(")")) break;
        ExpectOp(",", kErrExpectedRParen);
      }
    }
  }
  if ((proc->kind == ProcKind::PropLet || proc->kind == ProcKind::PropSet) && proc->params.empty())
    Fail(1054);
  if (proc->kind == ProcKind::Function || proc->kind == ProcKind::PropGet)
    proc->resultSlot = proc->numLocals++;
  Proc* saved = proc_;
  proc_ = proc.get();
  ++procBody_;
  // The body may start on the header line: "Sub A : x = 1 : End Sub", "Sub A() x = 1".
  if (!AtStmtEnd() && !Peek().IsKw("end")) {
    ParseStatementInto(proc->body);
    EndOfStatement();
  }
  ParseBlock(proc->body);
  --procBody_;
  proc_ = saved;
  Expect("end", endErr);
  Expect(endWord, endErr);

  if (!cls_) {
    // A procedure defined twice: the last definition is the one that counts.
    for (auto& other : unit_.procs)
      if (other->name == proc->name) {
        other = std::move(proc);
        return;
      }
    unit_.procs.push_back(std::move(proc));
    return;
  }
  if (proc->isDefault && (proc->kind == ProcKind::PropLet || proc->kind == ProcKind::PropSet)) {
    errorLine = line;
    Fail(1058);
  }
  Proc* raw = proc.get();
  std::map<std::string, std::unique_ptr<Proc>>* table = &cls_->methods;
  if (raw->kind == ProcKind::PropGet) table = &cls_->getters;
  if (raw->kind == ProcKind::PropLet) table = &cls_->letters;
  if (raw->kind == ProcKind::PropSet) table = &cls_->setters;
  if (table->count(raw->name) || (table == &cls_->methods && (cls_->getters.count(raw->name) ||
                                                              cls_->letters.count(raw->name)))) {
    errorLine = line;
    Fail(kErrNameRedefined);
  }
  if (raw->isDefault) {
    if (cls_->defaultMember) {
      errorLine = line;
      Fail(1052);
    }
    cls_->defaultMember = raw;
  }
  if (raw->name == "class_initialize" || raw->name == "class_terminate") {
    if (!raw->params.empty()) {
      errorLine = line;
      Fail(1053);
    }
    (raw->name == "class_initialize" ? cls_->initialize : cls_->terminate) = raw;
  }
  (*table)[raw->name] = std::move(proc);
}

void Parser::ParseClass() {
  Expect("class", kErrExpectedClass);
  auto cls = std::make_unique<ClassDef>();
  cls->name = Ident(&cls->display);
  cls->unit = &unit_;
  EndOfStatement();
  cls_ = cls.get();
  for (;;) {
    SkipNewlines();
    if (Peek().IsKw("end")) break;
    if (Peek().kind == Tok::End) Fail(kErrExpectedEnd);
    bool isPublic = true;
    if (Peek().IsKw("public") || Peek().IsKw("private")) {
      isPublic = Next().IsKw("public");
      const Token& nx = Peek();
      if (nx.IsKw("sub") || nx.IsKw("function") || IsPropertyAt(0) || nx.IsKw("default")) {
        ParseProcedure(isPublic);
      } else {
        ParseFields(isPublic);
      }
    } else if (Peek().IsKw("dim")) {
      Next();
      ParseFields(true);
    } else if (Peek().IsKw("sub") || Peek().IsKw("function") || IsPropertyAt(0)) {
      ParseProcedure(true);
    } else {
      Fail(kErrExpectedStatement);
    }
    EndOfStatement();
  }
  Expect("end", kErrExpectedClass);
  Expect("class", kErrExpectedClass);
  cls_ = nullptr;
  unit_.classes.push_back(std::move(cls));
}

void Parser::ParseFields(bool isPublic) {
  for (;;) {
    Field f;
    f.isPublic = isPublic;
    f.name = Ident(&f.display);
    if (AcceptOp("(")) {
      f.isArray = true;
      if (!AcceptOp(")")) {
        for (;;) {
          const Token& tk = Peek();
          if (tk.kind != Tok::Literal || !tk.value.IsNumber()) Fail(1026);
          f.dims.push_back(tk.value.type() == VType::Integer ? tk.value.intVal()
                                                             : tk.value.longVal());
          Next();
          if (AcceptOp(")")) break;
          ExpectOp(",", kErrExpectedRParen);
        }
      }
    }
    if (cls_->fieldIndex.count(f.name)) Fail(kErrNameRedefined);
    cls_->fieldIndex[f.name] = static_cast<int>(cls_->fields.size());
    cls_->fields.push_back(std::move(f));
    if (!AcceptOp(",")) break;
  }
}

void Parser::ParseDimList(Block& out) {
  auto st = std::make_unique<DimStmt>(SK::Dim, Line());
  for (;;) {
    std::string display;
    int line = Line();
    std::string name = Ident(&display);
    DeclareVariable(name, display);
    if (AcceptOp("(")) {
      DimTarget dt;
      dt.target = MakeName(name, display, line);
      if (!AcceptOp(")")) {
        for (;;) {
          dt.dims.push_back(ParseExpr());
          if (AcceptOp(")")) break;
          ExpectOp(",", kErrExpectedRParen);
        }
      }
      if (proc_ == &unit_.top) {
        st->targets.push_back(std::move(dt));
      } else {
        proc_->localArrays.emplace_back(proc_->locals[name], std::move(dt.dims));
      }
    }
    if (!AcceptOp(",")) break;
  }
  if (!st->targets.empty()) out.push_back(std::move(st));
}

void Parser::ParseBlock(Block& out) {
  Nest nest(*this, kLevel);
  for (;;) {
    SkipNewlines();
    if (Peek().kind == Tok::End || AtBlockEnd()) return;
    ParseStatementInto(out);
    EndOfStatement();
  }
}

void Parser::ParseStatementInto(Block& out) {
  const Token& tk = Peek();
  int line = tk.line;
  if (tk.kind == Tok::Ident && !tk.bracketed) {
    const std::string& kw = tk.lower;
    if (kw == "dim") {
      Next();
      ParseDimList(out);
      return;
    }
    if (kw == "const" || ((kw == "public" || kw == "private") && Peek(1).IsKw("const"))) {
      if (kw != "const") Next();
      Next();
      for (;;) {
        auto st = std::make_unique<ConstStmt>(Line());
        std::string display;
        int nline = Line();
        std::string name = Ident(&display);
        DeclareVariable(name, display);
        st->name = MakeName(name, display, nline);
        ExpectOp("=", kErrExpectedEquals);
        st->value = ParseExpr();
        out.push_back(std::move(st));
        if (!AcceptOp(",")) break;
      }
      return;
    }
    if ((kw == "public" || kw == "private") && AtTop()) {
      Next();
      ParseDimList(out);
      return;
    }
    // A procedure inside an If or loop of global code is defined like any other.
    if (proc_ == &unit_.top && !cls_ && procBody_ == 0 &&
        (kw == "sub" || kw == "function" ||
         ((kw == "public" || kw == "private") &&
          (Peek(1).IsKw("sub") || Peek(1).IsKw("function"))))) {
      bool isPublic = true;
      if (kw == "public" || kw == "private") isPublic = Next().IsKw("public");
      ParseProcedure(isPublic);
      return;
    }
    if (kw == "sub" || kw == "function" || kw == "class" || IsPropertyAt(0) || kw == "public" ||
        kw == "private" || kw == "option")
      Fail(kErrSyntax);
    if (kw == "redim") {
      Next();
      auto st = std::make_unique<DimStmt>(SK::ReDim, line);
      st->preserve = AcceptKw("preserve");
      for (;;) {
        DimTarget dt;
        std::string display;
        int nline = Line();
        std::string name = Ident(&display);
        // Inside a procedure ReDim resizes the global or field of that name when no local
        // is declared; it makes a local only when there is none (decided when it runs).
        if (proc_ == &unit_.top) DeclareVariable(name, display);
        dt.target = MakeName(name, display, nline);
        ExpectOp("(", kErrExpectedLParen);
        for (;;) {
          dt.dims.push_back(ParseExpr());
          if (AcceptOp(")")) break;
          ExpectOp(",", kErrExpectedRParen);
        }
        st->targets.push_back(std::move(dt));
        if (!AcceptOp(",")) break;
      }
      out.push_back(std::move(st));
      return;
    }
    if (kw == "erase") {
      Next();
      for (;;) {
        auto st = std::make_unique<EraseStmt>(line);
        std::string display;
        int nline = Line();
        std::string name = Ident(&display);
        st->target = MakeName(std::move(name), std::move(display), nline);
        out.push_back(std::move(st));
        if (!AcceptOp(",")) break;
      }
      return;
    }
    if (kw == "if") return ParseIf(out);
    if (kw == "for") return ParseFor(out);
    if (kw == "do") return ParseDo(out);
    if (kw == "while") {
      Next();
      auto st = std::make_unique<DoStmt>(line);
      st->preTest = true;
      st->cond = ParseExpr();
      EndOfStatement();
      ParseBlock(st->body);
      Expect("wend", kErrExpectedWend);
      out.push_back(std::move(st));
      return;
    }
    if (kw == "select") return ParseSelect(out);
    if (kw == "with") {
      Next();
      auto st = std::make_unique<WithStmt>(line);
      st->object = ParseExpr();
      st->slot = NewSlot();
      EndOfStatement();
      withSlots_.push_back(st->slot);
      ParseBlock(st->body);
      withSlots_.pop_back();
      Expect("end", kErrExpectedWith);
      Expect("with", kErrExpectedWith);
      out.push_back(std::move(st));
      return;
    }
    if (kw == "exit") {
      Next();
      auto st = std::make_unique<ExitStmt>(line);
      if (AcceptKw("do"))
        st->exitKind = ExitKind::Do;
      else if (AcceptKw("for"))
        st->exitKind = ExitKind::For;
      else if (AcceptKw("sub"))
        st->exitKind = ExitKind::Sub;
      else if (AcceptKw("function"))
        st->exitKind = ExitKind::Function;
      else if (AcceptKw("property"))
        st->exitKind = ExitKind::Property;
      else
        Fail(kErrInvalidExit);
      bool ok = true;
      switch (st->exitKind) {
        case ExitKind::Do:
          ok = doDepth_ > 0;
          break;
        case ExitKind::For:
          ok = forDepth_ > 0;
          break;
        case ExitKind::Sub:
          ok = proc_->kind == ProcKind::Sub;
          break;
        case ExitKind::Function:
          ok = proc_->kind == ProcKind::Function;
          break;
        case ExitKind::Property:
          ok = proc_->kind == ProcKind::PropGet || proc_->kind == ProcKind::PropLet ||
               proc_->kind == ProcKind::PropSet;
          break;
      }
      if (!ok) {
        errorLine = line;
        Fail(kErrInvalidExit);
      }
      out.push_back(std::move(st));
      return;
    }
    if (kw == "on") {
      Next();
      Expect("error", kErrSyntax);
      if (AcceptKw("resume")) {
        Expect("next", kErrSyntax);
        out.push_back(std::make_unique<Stmt>(SK::OnErrorResumeNext, line));
      } else {
        Expect("goto", kErrSyntax);
        const Token& z = Peek();
        if (z.kind != Tok::Literal || z.text != "0") Fail(kErrSyntax);
        Next();
        out.push_back(std::make_unique<Stmt>(SK::OnErrorGoto0, line));
      }
      return;
    }
    if (kw == "set") {
      Next();
      auto st = std::make_unique<AssignStmt>(line);
      st->set = true;
      st->target = ParsePostfix(ParsePrimary(), nullptr);
      ExpectOp("=", kErrExpectedEquals);
      st->value = ParseExpr();
      out.push_back(std::move(st));
      return;
    }
    if (kw == "let") {
      Next();
      ParseAssignOrCall(out);
      return;
    }
    if (kw == "stop") {
      Next();
      return;
    }
    if (kw == "call") {
      Next();
      auto st = std::make_unique<CallStmt>(line);
      ExprP e = ParsePostfix(ParsePrimary(), nullptr);
      if (auto* call = e->If<CallExpr>(); call && call->parens) {
        st->target = std::move(call->callee);
        st->args = std::move(call->args);
      } else {
        st->target = std::move(e);
      }
      out.push_back(std::move(st));
      return;
    }
    if (kReserved.count(kw)) Fail(kErrExpectedStatement);
  } else if (!tk.IsOp(".") && !(tk.kind == Tok::Ident && tk.bracketed)) {
    Fail(kErrExpectedStatement);
  }
  ParseAssignOrCall(out);
}

void Parser::ParseAssignOrCall(Block& out) {
  int line = Line();
  size_t firstParen = SIZE_MAX;
  ExprP lhs = ParsePostfix(ParsePrimary(), &firstParen);
  if (AcceptOp("=")) {
    ExprP rhs = ParseExpr();
    out.push_back(MakeAssign(std::move(lhs), std::move(rhs), line));
    return;
  }
  auto st = std::make_unique<CallStmt>(line);
  auto parenCall = [](Expr& e) -> CallExpr* {
    auto* call = e.If<CallExpr>();
    return call && call->parens ? call : nullptr;
  };
  CallExpr* outer = parenCall(*lhs);
  if (AtStmtEnd() && !(outer && parenCall(*outer->callee))) {
    if (outer) {
      // name(x) as a statement: the parentheses belong to the argument, which is then
      // passed by value; name(x, y) is an error.
      if (outer->args.size() > 1) {
        errorLine = line;
        Fail(kErrParensOnSub);
      }
      st->target = std::move(outer->callee);
      if (outer->args.size() == 1 && outer->args[0])
        st->args.push_back(std::make_unique<ParenExpr>(line, std::move(outer->args[0])));
    } else {
      st->target = std::move(lhs);
    }
    out.push_back(std::move(st));
    return;
  }
  if (outer && firstParen != SIZE_MAX) {
    // name (a) + 1, b and name (a)(1): the first argument starts with a parenthesis.
    p_ = firstParen;
    CallExpr* callee = outer;
    while (CallExpr* inner = parenCall(*callee->callee)) callee = inner;
    st->target = std::move(callee->callee);
  } else {
    st->target = std::move(lhs);
  }
  ParseArgList(st->args);
  out.push_back(std::move(st));
}

StmtP Parser::MakeAssign(ExprP lhs, ExprP rhs, int line) {
  // s = s & x & y appends in place instead of copying the growing text each time.
  if (const NameExpr* var = lhs->If<NameExpr>()) {
    std::vector<BinaryExpr*> chain;
    Expr* e = rhs.get();
    for (auto* bin = e->If<BinaryExpr>(); bin && bin->op == BinOp::Concat;
         bin = e->If<BinaryExpr>()) {
      chain.push_back(bin);
      e = bin->left.get();
    }
    const NameExpr* first = e->If<NameExpr>();
    if (!chain.empty() && first && first->name == var->name) {
      auto st = std::make_unique<ConcatAssignStmt>(line);
      for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        st->parts.push_back(std::move((*it)->right));
      st->target = NameP(static_cast<NameExpr*>(lhs.release()));
      st->whole = std::move(rhs);
      return st;
    }
  }
  auto st = std::make_unique<AssignStmt>(line);
  st->target = std::move(lhs);
  st->value = std::move(rhs);
  return st;
}

void Parser::ParseArgList(std::vector<ExprP>& args) {
  if (AtStmtEnd()) return;
  for (;;) {
    if (Peek().IsOp(","))
      args.push_back(nullptr);
    else
      args.push_back(ParseExpr());
    if (!AcceptOp(",")) break;
    if (AtStmtEnd()) {
      args.push_back(nullptr);
      break;
    }
  }
}

void Parser::ParseIf(Block& out) {
  int line = Line();
  Next();
  auto st = std::make_unique<IfStmt>(line);
  st->conds.push_back(ParseExpr());
  Expect("then", kErrExpectedThen);
  // Anything after Then, even a colon alone ("If c Then : a", "If c Then :"), makes the
  // single-line form.
  if (Peek().kind != Tok::Newline || Peek().colon) {
    // Single-line form: If c Then a : b Else c : d
    ++singleLine_;
    st->blocks.emplace_back();
    ParseInlineStatements(st->blocks.back());
    if (AcceptKw("else")) {
      st->blocks.emplace_back();
      ParseInlineStatements(st->blocks.back());
    }
    --singleLine_;
    AcceptEndIfInline();
    out.push_back(std::move(st));
    return;
  }
  ++ifBlocks_;
  st->blocks.emplace_back();
  ParseBlock(st->blocks.back());
  for (;;) {
    if (AcceptKw("elseif")) {
      st->conds.push_back(ParseExpr());
      Expect("then", kErrExpectedThen);
      st->blocks.emplace_back();
      ParseBlock(st->blocks.back());
      continue;
    }
    if (AcceptKw("else")) {
      st->blocks.emplace_back();
      ParseBlock(st->blocks.back());
      Expect("end", kErrExpectedIf);
      Expect("if", kErrExpectedIf);
      break;
    }
    Expect("end", kErrExpectedIf);
    Expect("if", kErrExpectedIf);
    break;
  }
  --ifBlocks_;
  out.push_back(std::move(st));
}

void Parser::ParseInlineStatements(Block& out) {
  Nest nest(*this, kLevel);
  for (;;) {
    const Token& tk = Peek();
    if (tk.kind == Tok::End || (tk.kind == Tok::Newline && !tk.colon) || tk.IsKw("else")) return;
    if (tk.IsKw("end") && Peek(1).IsKw("if")) return;
    if (tk.kind == Tok::Newline) {
      Next();
      continue;
    }
    ParseStatementInto(out);
    if (!AtStmtEnd() && !(Peek().IsKw("end") && Peek(1).IsKw("if"))) Fail(kErrExpectedEnd);
  }
}

void Parser::ParseFor(Block& out) {
  int line = Line();
  Next();
  bool each = AcceptKw("each");
  NameP var = NameHere();
  Block* body;
  StmtP st;
  if (each) {
    auto fe = std::make_unique<ForEachStmt>(line);
    fe->var = std::move(var);
    Expect("in", kErrExpectedIn);
    fe->collection = ParseExpr();
    body = &fe->body;
    st = std::move(fe);
  } else {
    auto fr = std::make_unique<ForStmt>(line);
    fr->var = std::move(var);
    ExpectOp("=", kErrExpectedEquals);
    fr->from = ParseExpr();
    Expect("to", kErrExpectedTo);
    fr->to = ParseExpr();
    if (AcceptKw("step")) fr->step = ParseExpr();
    body = &fr->body;
    st = std::move(fr);
  }
  EndOfStatement();
  ++forDepth_;
  ParseBlock(*body);
  --forDepth_;
  Expect("next", kErrExpectedNext);
  if (!AtStmtEnd()) Ident();
  out.push_back(std::move(st));
}

void Parser::ParseDo(Block& out) {
  int line = Line();
  Next();
  auto st = std::make_unique<DoStmt>(line);
  if (Peek().IsKw("while") || Peek().IsKw("until")) {
    st->preTest = true;
    st->until = Next().IsKw("until");
    st->cond = ParseExpr();
  }
  EndOfStatement();
  ++doDepth_;
  ParseBlock(st->body);
  --doDepth_;
  Expect("loop", kErrExpectedLoop);
  if (Peek().IsKw("while") || Peek().IsKw("until")) {
    if (st->preTest) Fail(kErrExpectedEnd);
    st->until = Next().IsKw("until");
    st->cond = ParseExpr();
  }
  out.push_back(std::move(st));
}

void Parser::ParseSelect(Block& out) {
  int line = Line();
  Next();
  Expect("case", kErrExpectedCase);
  auto st = std::make_unique<SelectStmt>(line);
  st->subject = ParseExpr();
  EndOfStatement();
  SkipNewlines();
  while (AcceptKw("case")) {
    Case c;
    if (!AcceptKw("else")) {
      for (;;) {
        CaseItem item;
        if (AcceptKw("is")) {
          item.isOp = true;
          const Token& op = Peek();
          if (op.IsOp("="))
            item.op = BinOp::Eq;
          else if (op.IsOp("<>"))
            item.op = BinOp::Ne;
          else if (op.IsOp("<"))
            item.op = BinOp::Lt;
          else if (op.IsOp(">"))
            item.op = BinOp::Gt;
          else if (op.IsOp("<="))
            item.op = BinOp::Le;
          else if (op.IsOp(">="))
            item.op = BinOp::Ge;
          else
            Fail(kErrSyntax);
          Next();
          item.value = ParseConcat();
        } else {
          item.value = ParseExpr();
          if (AcceptKw("to")) item.upper = ParseExpr();
        }
        c.items.push_back(std::move(item));
        if (!AcceptOp(",")) break;
      }
    }
    ParseBlock(c.body);
    st->cases.push_back(std::move(c));
  }
  Expect("end", kErrExpectedSelect);
  Expect("select", kErrExpectedSelect);
  out.push_back(std::move(st));
}

}  // namespace parse

using parse::Parser;

std::unique_ptr<Unit> Parse(std::string_view source, ParseMode mode, int& errorLine) {
  errorLine = 0;
  auto unit = std::make_unique<Unit>();
  unit->top.kind = ProcKind::TopLevel;
  unit->top.unit = unit.get();
  std::vector<Token> toks = Tokenize(source, errorLine);
  Parser p(std::move(toks), *unit);
  try {
    if (mode == ParseMode::Expression)
      p.ParseExpressionUnit();
    else
      p.ParseCode();
  } catch (const HostError&) {
    errorLine = p.errorLine;
    throw;
  }
  return unit;
}

}  // namespace fern::script
