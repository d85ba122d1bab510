#include "web/soap_envelope.h"

#include "base/text.h"
#include "base/xml_names.h"

std::string BuildSoapRequest(std::string_view operation, const UsernameToken* token) {
    pugi::xml_document doc;
    pugi::xml_node envelope = doc.append_child("s:Envelope");
    envelope.append_attribute("xmlns:s") = soap::kEnvelopeNs;
    envelope.append_attribute("xmlns:tds") = soap::kDeviceNs;
    envelope.append_attribute("xmlns:tt") = soap::kSchemaNs;
    if (token) {
        pugi::xml_node security = envelope.append_child("s:Header").append_child("wsse:Security");
        security.append_attribute("xmlns:wsse") = wss::kSecurityNs;
        security.append_attribute("xmlns:wsu") = wss::kUtilityNs;
        security.append_attribute("s:mustUnderstand") = "1";
        pugi::xml_node usernameToken = security.append_child("wsse:UsernameToken");
        usernameToken.append_child("wsse:Username").text() = token->Username.c_str();
        pugi::xml_node password = usernameToken.append_child("wsse:Password");
        password.append_attribute("Type") = wss::kPasswordDigestType;
        password.text() = token->PasswordDigest.c_str();
        pugi::xml_node nonce = usernameToken.append_child("wsse:Nonce");
        nonce.append_attribute("EncodingType") = wss::kBase64EncodingType;
        nonce.text() = token->Nonce.c_str();
        usernameToken.append_child("wsu:Created").text() = token->Created.c_str();
    }
    const std::string name = "tds:" + std::string(operation);
    envelope.append_child("s:Body").append_child(name.c_str());
    return XmlDocumentText(doc);
}

bool ParseSoapAnswer(std::string_view text, SoapAnswer& answer) {
    answer.Payload = pugi::xml_node();
    answer.IsFault = false;
    answer.FaultCodes.clear();
    answer.FaultReason.clear();
    if (text.size() > soap::kMaxAnswerBytes ||
        !answer.Doc.load_buffer(text.data(), text.size(), pugi::parse_default,
                                pugi::encoding_utf8)) {
        return false;
    }
    pugi::xml_node envelope = answer.Doc.document_element();
    if (LocalName(envelope.name()) != "Envelope" ||
        ElementNamespace(envelope) != soap::kEnvelopeNs) {
        return false;
    }
    pugi::xml_node first;
    for (pugi::xml_node child = ChildNamed(envelope, "Body", soap::kEnvelopeNs).first_child();
         child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) {
            first = child;
            break;
        }
    }
    if (!first) return false;
    if (LocalName(first.name()) != "Fault" || ElementNamespace(first) != soap::kEnvelopeNs) {
        answer.Payload = first;
        return true;
    }
    answer.IsFault = true;
    // Code/Value, then Subcode/Value, Subcode/Subcode/Value, ...: the local names of the
    // QNames they hold ("s:Sender", "ter:NotAuthorized").
    pugi::xml_node code = ChildNamed(first, "Code", soap::kEnvelopeNs);
    for (int depth = 0; code && depth < 8; ++depth) {
        answer.FaultCodes.emplace_back(LocalName(ChildText(code, "Value")));
        code = ChildNamed(code, "Subcode", soap::kEnvelopeNs);
    }
    answer.FaultReason = ChildText(ChildNamed(first, "Reason", soap::kEnvelopeNs), "Text");
    return true;
}

bool IsNotAuthorized(const SoapAnswer& answer) {
    if (!answer.IsFault) return false;
    for (const std::string& code : answer.FaultCodes) {
        if (code == "NotAuthorized" || code == "FailedAuthentication") return true;
    }
    return false;
}
