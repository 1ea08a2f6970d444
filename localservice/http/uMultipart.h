#pragma once
// Reading multipart/form-data bodies from their raw bytes.
#include <string>
#include <string_view>
#include <vector>

struct TFormPart {
    std::string Name;
    std::string Filename; // as sent, UTF-8 bytes
    bool HasFilename = false;
    std::string ContentType; // empty when the part has no Content-Type line
    // Within the body given to ParseMultipart, valid while it lives: a photo is not copied.
    std::string_view Data;
};

bool IsMultipartForm(std::string_view AContentType);

// False with a reason in AError when the body is not a well-formed form.
bool ParseMultipart(std::string_view AContentType, std::string_view ABody,
                    std::vector<TFormPart>& AParts, std::string& AError);

const TFormPart* FindPart(const std::vector<TFormPart>& AParts, std::string_view AName);
TFormPart* FindPart(std::vector<TFormPart>& AParts, std::string_view AName);
