#pragma once
// PDF documents built to make drawing endless: form objects nested `depth` deep, each drawing
// the next twice, so that one page asks for 2^depth drawings of a square from a few kilobytes.
#include <string>
#include <vector>

namespace kv::test {

// A PDF whose pages are given by `hostile`: true for a page of nested forms, false for a page
// with one ordinary square on it.
inline std::string nestedFormsPdf(const std::vector<bool> &hostile, int depth = 40) {
  std::vector<std::string> objects;  // object n is objects[n - 1]
  auto add = [&](std::string body) {
    objects.push_back(std::move(body));
    return static_cast<int>(objects.size());
  };
  auto stream = [](const std::string &dict, const std::string &data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
  };
  const int catalog = add(""), pagesObj = add("");
  // The innermost form draws a square; every other form draws the one inside it twice.
  int inner =
      add(stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792]", "100 100 400 400 re f"));
  for (int level = 1; level < depth; ++level)
    inner =
        add(stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << "
                   "/XObject << /F " +
                       std::to_string(inner) + " 0 R >> >>",
                   "q 1 0 0 1 0.5 0 cm /F Do Q q /F Do Q"));
  std::string kids;
  for (bool bad : hostile) {
    const int content = add(bad ? stream("", "/F Do") : stream("", "100 100 200 200 re f"));
    const std::string resources =
        bad ? " /Resources << /XObject << /F " + std::to_string(inner) + " 0 R >> >>" : "";
    const int page = add("<< /Type /Page /Parent " + std::to_string(pagesObj) +
                         " 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(content) +
                         " 0 R" + resources + " >>");
    kids += std::to_string(page) + " 0 R ";
  }
  objects[catalog - 1] = "<< /Type /Catalog /Pages " + std::to_string(pagesObj) + " 0 R >>";
  objects[pagesObj - 1] =
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(hostile.size()) + " >>";

  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t at : offsets) {
    std::string n = std::to_string(at);
    pdf += std::string(10 - n.size(), '0') + n + " 00000 n \n";
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root " +
         std::to_string(catalog) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace kv::test
