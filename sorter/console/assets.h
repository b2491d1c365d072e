#pragma once
// The console's stylesheet and its one script (a periodic refresh of the pages that show
// live state; every page works without it).

namespace sorter::console {

inline constexpr const char* kStyleSheet = R"css(
*{box-sizing:border-box}
body{margin:0;font:15px/1.4 system-ui,"DejaVu Sans",sans-serif;color:#1d2430;background:#f3f5f8}
header{display:flex;align-items:center;gap:1.5em;padding:.5em 1.2em;background:#21406b;color:#fff}
header .brand{font-weight:700}
header nav{display:flex;gap:.2em;flex:1}
header nav a{color:#dfe8f5;text-decoration:none;padding:.35em .7em;border-radius:4px}
header nav a.here,header nav a:hover{background:#3b6098;color:#fff}
header form.logout button{background:transparent;color:#dfe8f5;border:1px solid #6f8cb5}
main{padding:1em 1.5em;max-width:1200px}
main.login{max-width:420px;margin:12vh auto;background:#fff;padding:2em;border-radius:8px;box-shadow:0 1px 4px #0002}
main.login label{display:block;margin:0 0 .8em}main.login input{display:block;width:100%;box-sizing:border-box;margin-top:.2em;padding:.3em}
h1{font-size:1.4em;margin:.2em 0 .8em}
h2{font-size:1.1em;margin:1.4em 0 .5em}
table{border-collapse:collapse;background:#fff;margin:.3em 0 1em}
th,td{text-align:left;padding:.3em .7em;border-bottom:1px solid #dde3ea;vertical-align:top}
th{background:#e8edf3;font-weight:600}
td.num{text-align:right}
form{display:inline}
button{font:inherit;padding:.25em .8em;border-radius:4px;border:1px solid #2f5587;background:#2f5587;color:#fff;cursor:pointer}
button.danger,form.danger button{background:#a33;border-color:#a33}
input[type=file]{font:inherit}
.notice{padding:.6em 1em;border-radius:6px;margin:.5em 0 1em}
.notice.good{background:#e1f3e4;border:1px solid #8cc79a}
.notice.bad{background:#fbe4e4;border:1px solid #d99}
.state{display:inline-block;padding:.1em .6em;border-radius:10px;font-weight:600}
.state.on{background:#e1f3e4;color:#23612f}.state.off{background:#fbe4e4;color:#8a2020}.state.unknown{background:#eee}
.cards{display:flex;flex-wrap:wrap;gap:1em}
.card{background:#fff;border-radius:8px;padding:.8em 1.1em;box-shadow:0 1px 3px #0002;min-width:14em}
.card .big{font-size:1.8em;font-weight:700}
.mail{background:#fff;border-radius:8px;box-shadow:0 1px 3px #0002;margin:0 0 1.2em;padding:.8em 1em;overflow:auto;content-visibility:auto;contain-intrinsic-size:auto 420px}
.mail .actions{margin-bottom:.5em;color:#555}
.mail table.headers{margin:0 0 .6em;background:none}
.mail table.headers th{background:none;width:6em;padding:.1em .5em .1em 0;border:0;color:#555}
.mail table.headers td{border:0;padding:.1em 0}
.mail .body{position:relative;background:#fff;border:1px solid #c9d2dd;max-width:100%;overflow:auto}
.mail .tb{position:absolute;white-space:pre-wrap;overflow:hidden;word-wrap:break-word}
.mail .pic{position:absolute;max-width:none}
.mail .pic.border{border:1px solid #000}
.mail .noimage{background:#eef;border:1px dashed #99a;padding:.3em;font-size:.85em}
.cut{color:#8a5a00;font-style:italic}
pre{background:#fff;border:1px solid #dde3ea;padding:.6em;overflow:auto;max-height:30em;white-space:pre-wrap}
.log td.type-1{color:#a12020;font-weight:600}.log td.type-2{color:#8a5a00}.log td.type-4{color:#23612f}
.log td.text,.logtext{white-space:pre-wrap}
.filters a{margin-right:.6em}
.filters a.here{font-weight:700;text-decoration:none;color:#1d2430}
.lesson ul{list-style:none;padding-left:1.5em;margin:.2em 0}
.lesson .step{margin:.4em 0}
.lesson .choice{background:#fff;border-left:3px solid #3b6098;padding:.3em .6em;margin:.3em 0}
.lesson .message{white-space:pre-wrap}
.hint{color:#555;font-size:.9em}
)css";

inline constexpr const char* kRefreshScript = R"js(
(function () {
  var live = { "/": 15, "/mailboxes": 30, "/log": 30 };
  var seconds = live[location.pathname];
  if (!seconds) return;
  var busy = false;
  document.addEventListener("focusin", function () { busy = true; });
  setInterval(function () { if (!busy && !document.hidden) location.reload(); }, seconds * 1000);
})();
)js";

}  // namespace sorter::console
